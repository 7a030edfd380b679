# The page for game designers (web/ciphrel.html): its suite in headless Chromium against the
# ciphrel tool, which also writes docs/web-page.png; and OpenSSL's Blowfish loop that
# `make bench` sets the page's file speed beside (bench/web_bench.py). The plain build only:
# the page runs no code of this tree but the tool, and a sanitized tool adds nothing.
if(CIPHREL_SANITIZE)
    return()
endif()
add_test(NAME web.page
         COMMAND ${CLI_PYTHON} ${PROJECT_SOURCE_DIR}/tests/web/page_test.py
                 $<TARGET_FILE:ciphrel_cli> ${KNOWN_ANSWERS}
                 ${PROJECT_SOURCE_DIR}/docs/web-page.png)
# Serial: its timing checks (progress every 250 ms) want the processors to themselves.
set_tests_properties(web.page PROPERTIES LABELS web TIMEOUT 600 RUN_SERIAL TRUE)
# The committed page holds the kit's core as it stands.
add_test(NAME web.page_built COMMAND node ${PROJECT_SOURCE_DIR}/web/build.js --check)
set_tests_properties(web.page_built PROPERTIES LABELS web)

add_executable(openssl_loop bench/openssl_loop.cpp)
target_link_libraries(openssl_loop PRIVATE OpenSSL::Crypto)
set_target_properties(openssl_loop PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
