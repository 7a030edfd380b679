# The benchmark program (`make bench`): the block paths, strings, key expansion and file
# work beside OpenSSL's Blowfish of the same bitness. No pass or fail, so no CTest entry.
add_executable(bench bench/bench.cpp)
target_link_libraries(bench PRIVATE ciphrel_core OpenSSL::Crypto)
set_target_properties(bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)

# The 32-bit figures come from a 32-bit build of the same program, which the 64-bit one
# runs. That needs a machine that executes 32-bit code, then g++ -m32 and a 32-bit libcrypto.
if(CMAKE_SIZEOF_VOID_P EQUAL 8 AND CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
    execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/ia32-check.sh
                    RESULT_VARIABLE CIPHREL_IA32_EXIT OUTPUT_QUIET ERROR_QUIET)
    if(NOT CIPHREL_IA32_EXIT EQUAL 0)
        set(BENCH32_MISSING "this machine cannot run 32-bit code")
    else()
        file(WRITE ${CMAKE_BINARY_DIR}/m32_check/check.cpp
             "#include <openssl/blowfish.h>\n"
             "int main() { BF_KEY k; unsigned char b = 0; BF_set_key(&k, 1, &b);\n"
             "             return sizeof(void*) == 4 ? 0 : 1; }\n")
        try_run(CIPHREL_M32_EXIT CIPHREL_M32_BUILT ${CMAKE_BINARY_DIR}/m32_check
                ${CMAKE_BINARY_DIR}/m32_check/check.cpp
                COMPILE_DEFINITIONS -m32 -DOPENSSL_SUPPRESS_DEPRECATED
                LINK_OPTIONS -m32 LINK_LIBRARIES crypto)
        if(NOT CIPHREL_M32_BUILT OR NOT CIPHREL_M32_EXIT EQUAL 0)
            set(BENCH32_MISSING "no 32-bit g++ or libcrypto here (g++-multilib, libssl-dev:i386)")
        endif()
    endif()

    if(BENCH32_MISSING)
        target_compile_definitions(bench PRIVATE
                                   CIPHREL_BENCH_OTHER_MISSING="${BENCH32_MISSING}")
        if(NOT CIPHREL_IA32_EXIT EQUAL 0)
            # Only an emulator could run the 32-bit code here, and no time it gives means
            # anything.
            target_compile_definitions(bench PRIVATE CIPHREL_BENCH_OTHER_EMULATED=1)
        endif()
    else()
        # The shipped module is 32-bit Release code that is not position-independent; a PIE
        # build would give up one of the seven general registers to the GOT pointer, so
        # these figures would describe some other code. Large-file offsets as the module has.
        set(BENCH32_OPTIONS -m32 -O3 -fno-pie -D_FILE_OFFSET_BITS=64)
        add_library(ciphrel_core32 STATIC ${CORE_SOURCES} ${NATIVE_SOURCES})
        target_include_directories(ciphrel_core32 PUBLIC ${PROJECT_SOURCE_DIR})
        target_compile_options(ciphrel_core32 PUBLIC ${BENCH32_OPTIONS})
        target_link_options(ciphrel_core32 PUBLIC -m32 -no-pie)
        add_executable(bench32 bench/bench.cpp)
        target_link_libraries(bench32 PRIVATE ciphrel_core32 crypto)
        set_target_properties(bench32 PROPERTIES
                              RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
        target_compile_definitions(bench PRIVATE
                                   CIPHREL_BENCH_OTHER="$<TARGET_FILE:bench32>")
        add_dependencies(bench bench32)
    endif()
endif()
