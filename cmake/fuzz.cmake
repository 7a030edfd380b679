# Fuzz targets for clang's libFuzzer under AddressSanitizer and UBSan, and a short run of
# each over its seed corpus as a CTest regression check (label "fuzz").
set(FUZZ_TARGETS filter_round_trip file_job key_ring)
set(FUZZ_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=undefined
                    -fno-omit-frame-pointer)

# The core and the test host again, instrumented for coverage; the other trees keep theirs.
add_library(fuzz_core STATIC ${CORE_SOURCES} ${NATIVE_SOURCES} testhost/test_host.cpp)
target_include_directories(fuzz_core PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(fuzz_core PUBLIC -fsanitize=fuzzer-no-link ${FUZZ_SANITIZERS})
target_link_options(fuzz_core PUBLIC ${FUZZ_SANITIZERS})

add_custom_target(fuzzers)
foreach(name ${FUZZ_TARGETS})
    add_executable(fuzz_${name} fuzz/${name}.cpp)
    target_link_libraries(fuzz_${name} PRIVATE fuzz_core)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    add_dependencies(fuzzers fuzz_${name})

    # New inputs go to the tree's own corpus; the seeds in the sources stay as they are.
    set(work ${CMAKE_BINARY_DIR}/fuzz-work/${name})
    file(MAKE_DIRECTORY ${work}/corpus ${work}/findings)
    add_test(NAME fuzz.${name}
             COMMAND fuzz_${name} -max_total_time=3 -artifact_prefix=${work}/findings/
                     ${work}/corpus ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
    set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz TIMEOUT 300)
endforeach()
