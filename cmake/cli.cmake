# The ciphrel command-line tool, built from the same portable core as the module, and its
# tests: the commands (natively, and the Windows build under Wine), the server kit, and a
# large file streamed in little memory.
file(GLOB CLI_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/cli/*.cpp)
set(CLI_PYTHON /usr/bin/python3)
set(KNOWN_ANSWERS ${PROJECT_SOURCE_DIR}/data/known_answers.tsv)

if(WIN32)
    # ciphrel.exe: one static program that imports nothing but the system's DLLs.
    add_library(ciphrel_cli_core STATIC ${CORE_SOURCES} ${NATIVE_SOURCES})
    target_include_directories(ciphrel_cli_core PUBLIC ${PROJECT_SOURCE_DIR})
    add_executable(ciphrel_cli ${CLI_SOURCES})
    set_target_properties(ciphrel_cli PROPERTIES OUTPUT_NAME ciphrel)
    target_link_libraries(ciphrel_cli PRIVATE ciphrel_cli_core)
    target_compile_definitions(ciphrel_cli PRIVATE CIPHREL_VERSION="${PROJECT_VERSION}")
    # wmain: the command line arrives as wide characters, never through the ANSI code page.
    target_link_options(ciphrel_cli PRIVATE ${MODULE_LINK_OPTIONS} -municode -s)
    # Every Wine start of the test happens inside one run32.sh call: where 32-bit code
    # runs only in a guest, each call boots it.
    add_test(NAME wine.cli.commands
             COMMAND ${PROJECT_SOURCE_DIR}/scripts/run32.sh ${CLI_PYTHON}
                     ${PROJECT_SOURCE_DIR}/tests/cli/commands_test.py
                     --tool "wine $<TARGET_FILE:ciphrel_cli>" --answers ${KNOWN_ANSWERS})
    set_tests_properties(wine.cli.commands PROPERTIES LABELS cli
                         TIMEOUT 1200)
    return()
endif()

add_executable(ciphrel_cli ${CLI_SOURCES})
set_target_properties(ciphrel_cli PROPERTIES OUTPUT_NAME ciphrel)
target_link_libraries(ciphrel_cli PRIVATE ciphrel_core)
target_compile_definitions(ciphrel_cli PRIVATE CIPHREL_VERSION="${PROJECT_VERSION}")

add_test(NAME cli.commands
         COMMAND ${CLI_PYTHON} ${PROJECT_SOURCE_DIR}/tests/cli/commands_test.py
                 --tool $<TARGET_FILE:ciphrel_cli> --answers ${KNOWN_ANSWERS})
# The server kit in Python, Node.js and PHP against the known answers and the tool, and
# its endpoints on loopback ports; with it, the documents' vectors and reference.
add_test(NAME kit.languages
         COMMAND ${CLI_PYTHON} ${PROJECT_SOURCE_DIR}/tests/kit/kit_test.py
                 $<TARGET_FILE:ciphrel_cli> ${KNOWN_ANSWERS} ${PROJECT_SOURCE_DIR})
set_tests_properties(cli.commands kit.languages PROPERTIES LABELS cli)
set_tests_properties(kit.languages PROPERTIES TIMEOUT 600)

# 3 GiB through the tool twice, with its peak memory measured; sanitizers would inflate
# both the time and the memory, so only the plain build runs it.
if(NOT CIPHREL_SANITIZE)
    add_test(NAME cli.large_file
             COMMAND ${CLI_PYTHON} ${PROJECT_SOURCE_DIR}/tests/cli/large_file_test.py
                     $<TARGET_FILE:ciphrel_cli>)
    set_tests_properties(cli.large_file PROPERTIES LABELS "cli;large" TIMEOUT 600
                         RUN_SERIAL TRUE)
endif()
