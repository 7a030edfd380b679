# The module and what runs it under Wine: the test host, the module tests, the demo.
enable_language(RC)

set(MODULE_LINK_OPTIONS -static -static-libgcc -static-libstdc++)

set(MINGW_PREFIX i686-w64-mingw32)
# The .def lists __stdcall names as Name@N; the export table keeps the plain names only.
set(EXPORT_LINK_OPTIONS -Wl,--kill-at)

# Writes one module-definition file from its parts.
function(write_def_file output)
    set(text "")
    foreach(input ${ARGN})
        file(READ ${PROJECT_SOURCE_DIR}/${input} part)
        string(APPEND text "${part}")
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                     ${PROJECT_SOURCE_DIR}/${input})
    endforeach()
    # Rewritten only when it changes, so a new configure relinks nothing.
    file(WRITE ${output}.new "${text}")
    configure_file(${output}.new ${output} COPYONLY)
endfunction()

write_def_file(${CMAKE_BINARY_DIR}/cncs232_import.def resources/cncs232.def)
write_def_file(${CMAKE_BINARY_DIR}/cncs232_stub.def testhost/cncs232_stub.def)
write_def_file(${CMAKE_BINARY_DIR}/ciphrel.def
               resources/runtime_exports.def resources/designer_exports.def.in)

# cncs232.dll, the host's library, is imported by ordinal only.
set(CNCS232_IMPORT ${CMAKE_BINARY_DIR}/libcncs232.a)
add_custom_command(OUTPUT ${CNCS232_IMPORT}
    COMMAND ${MINGW_PREFIX}-dlltool -d ${CMAKE_BINARY_DIR}/cncs232_import.def
            -l ${CNCS232_IMPORT}
    DEPENDS ${CMAKE_BINARY_DIR}/cncs232_import.def VERBATIM)
add_custom_target(cncs232_import DEPENDS ${CNCS232_IMPORT})

# Bitmaps are kept as text pixel maps and turned into .bmp files here.
set(BITMAP_DIR ${CMAKE_BINARY_DIR}/bitmaps)
set(BITMAPS)
foreach(name icon picture)
    add_custom_command(OUTPUT ${BITMAP_DIR}/${name}.bmp
        COMMAND ${CMAKE_COMMAND} -E make_directory ${BITMAP_DIR}
        COMMAND python3 ${PROJECT_SOURCE_DIR}/scripts/make_bitmaps.py
                ${PROJECT_SOURCE_DIR}/resources/${name}.txt ${BITMAP_DIR}/${name}.bmp
        DEPENDS ${PROJECT_SOURCE_DIR}/resources/${name}.txt
                ${PROJECT_SOURCE_DIR}/scripts/make_bitmaps.py VERBATIM)
    list(APPEND BITMAPS ${BITMAP_DIR}/${name}.bmp)
endforeach()
add_custom_target(bitmaps DEPENDS ${BITMAPS})
set_source_files_properties(resources/ciphrel.rc PROPERTIES OBJECT_DEPENDS "${BITMAPS}")

add_library(ciphrel SHARED ${CORE_SOURCES} ${WIN_SOURCES} resources/ciphrel.rc
            ${CMAKE_BINARY_DIR}/ciphrel.def)
set_target_properties(ciphrel PROPERTIES PREFIX "" OUTPUT_NAME ciphrel)
target_include_directories(ciphrel PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(ciphrel PRIVATE $<$<COMPILE_LANGUAGE:RC>:-I${BITMAP_DIR}>)
target_link_options(ciphrel PRIVATE ${MODULE_LINK_OPTIONS} ${EXPORT_LINK_OPTIONS})
target_link_libraries(ciphrel PRIVATE ${CNCS232_IMPORT} gdi32 user32 kernel32)
add_dependencies(ciphrel cncs232_import bitmaps)

# The stand-in for the host's library, placed beside the module so the loader finds it.
add_library(cncs232 SHARED testhost/cncs232_stub.cpp ${CMAKE_BINARY_DIR}/cncs232_stub.def)
set_target_properties(cncs232 PROPERTIES PREFIX "" OUTPUT_NAME cncs232)
target_include_directories(cncs232 PRIVATE ${PROJECT_SOURCE_DIR})
target_link_options(cncs232 PRIVATE ${MODULE_LINK_OPTIONS} ${EXPORT_LINK_OPTIONS})
target_link_libraries(cncs232 PRIVATE user32)

# The test host loads ciphrel.dll by name and resolves its exports by plain name; it
# shares only the EditData record helpers with the module.
add_library(testhost STATIC testhost/test_host.cpp designer/edit_data.cpp)
target_include_directories(testhost PUBLIC ${PROJECT_SOURCE_DIR})
add_dependencies(testhost ciphrel cncs232)

file(GLOB MODULE_TESTS CONFIGURE_DEPENDS tests/module/*_test.cpp)
add_executable(module_tests ${MODULE_TESTS})
target_link_libraries(module_tests PRIVATE testhost GTest::gtest_main user32 gdi32)
target_link_options(module_tests PRIVATE ${MODULE_LINK_OPTIONS})
target_compile_options(module_tests PRIVATE -Wno-deprecated-declarations)

add_executable(demo demo/demo.cpp)
target_link_libraries(demo PRIVATE testhost)
target_link_options(demo PRIVATE ${MODULE_LINK_OPTIONS})

# ciphrel.exe, the command-line tool for Windows, ships beside the module.
include(cmake/cli.cmake)

# One process for the whole suite: each Wine start is costly. In the guest (scripts/run32.sh) the suite meets an Intel processor with AVX2, so the
# module's load-time choice there is the AVX2 path; the block path test below meets an
# AMD one, where it forces the scalar and AVX2 paths itself.
add_test(NAME wine.module_tests COMMAND module_tests)
set_tests_properties(wine.module_tests PROPERTIES TIMEOUT 1800
                     ENVIRONMENT CIPHREL_GUEST_CPU=Haswell-v4)

# Every block path against the one-block functions, built as the module builds them and
# run at 32 bits: each path this processor offers runs, the log names the others.
file(GLOB CIPHER_SOURCES CONFIGURE_DEPENDS cipher/*.cpp)
add_executable(block_paths_test tests/native/block_paths_test.cpp ${CIPHER_SOURCES})
target_include_directories(block_paths_test PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(block_paths_test PRIVATE GTest::gtest_main)
target_link_options(block_paths_test PRIVATE ${MODULE_LINK_OPTIONS})
add_test(NAME wine.block_paths COMMAND block_paths_test)
set_tests_properties(wine.block_paths PROPERTIES TIMEOUT 600
                     ENVIRONMENT CIPHREL_GUEST_CPU=max)

# The same comparison under Bochs's Tiger Lake model, which offers AVX-512 where the
# processor may not: the block code, compiled as in the module, linked into a
# freestanding program at 1 MiB behind a boot ROM of our own (tools/bochs).
file(GLOB BLOCK_SOURCES CONFIGURE_DEPENDS cipher/blocks_*.cpp)
add_executable(bochs_block_paths tools/bochs/runtime.cpp tests/bochs/block_paths_bochs.cpp
               cipher/blowfish.cpp cipher/blowfish_tables.cpp cipher/block_paths.cpp
               ${BLOCK_SOURCES})
target_include_directories(bochs_block_paths PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(bochs_block_paths PRIVATE
    -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables)
# Freestanding code generation only where no C library is assumed: the cipher files keep
# the module's, memcpy inlined as there.
set_source_files_properties(tools/bochs/runtime.cpp tests/bochs/block_paths_bochs.cpp
                            PROPERTIES COMPILE_OPTIONS -ffreestanding)
target_link_options(bochs_block_paths PRIVATE -nostdlib
    -Wl,--image-base=0xFF000,-e,_BochsMain,--disable-dynamicbase,--disable-reloc-section)
target_link_libraries(bochs_block_paths PRIVATE gcc)
set(BOCHS_ROM ${CMAKE_BINARY_DIR}/bochs/block_paths.rom)
add_custom_command(OUTPUT ${BOCHS_ROM}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/bochs
    COMMAND ${PROJECT_SOURCE_DIR}/tools/bochs/make-rom.sh
            $<TARGET_FILE:bochs_block_paths> _BochsMain ${BOCHS_ROM}
    DEPENDS bochs_block_paths ${PROJECT_SOURCE_DIR}/tools/bochs/rom.S
            ${PROJECT_SOURCE_DIR}/tools/bochs/make-rom.sh VERBATIM)
add_custom_target(bochs_rom ALL DEPENDS ${BOCHS_ROM})
add_test(NAME bochs.block_paths
         COMMAND ${PROJECT_SOURCE_DIR}/scripts/bochs-run.sh ${BOCHS_ROM})
set_tests_properties(bochs.block_paths PROPERTIES TIMEOUT 300 LABELS bochs)

add_test(NAME run32.probe COMMAND ${PROJECT_SOURCE_DIR}/tests/run32/probe_test.sh)
add_test(NAME run32.prefix COMMAND ${PROJECT_SOURCE_DIR}/tests/run32/prefix_test.sh)

# The artifact check holds the shipped module to PE32/i386, its imports and its resources.
add_test(NAME pe.artifact
         COMMAND /usr/bin/python3 ${PROJECT_SOURCE_DIR}/tests/pe/check_module.py
                 $<TARGET_FILE:ciphrel>)

# Opens the setup dialog of a new object and leaves it up for a screenshot.
add_executable(dialog_shot tools/dialog_shot.cpp)
target_link_libraries(dialog_shot PRIVATE testhost user32)
target_link_options(dialog_shot PRIVATE ${MODULE_LINK_OPTIONS})


# The file benchmark through the real module (`make bench`); no pass or fail, no CTest entry.
add_executable(dll_file_bench bench/dll_file_bench.cpp)
target_link_libraries(dll_file_bench PRIVATE testhost)
target_link_options(dll_file_bench PRIVATE ${MODULE_LINK_OPTIONS})
