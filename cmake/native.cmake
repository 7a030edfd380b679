# Native build: the portable core as a library, its unit tests, and the host-driven module
# tests linking the core in-process.
add_library(ciphrel_core STATIC ${CORE_SOURCES} ${NATIVE_SOURCES})
target_include_directories(ciphrel_core PUBLIC ${PROJECT_SOURCE_DIR})

add_library(testhost STATIC testhost/test_host.cpp)
target_link_libraries(testhost PUBLIC ciphrel_core)

find_package(OpenSSL REQUIRED)      # an independent Blowfish for known-answer checks

file(GLOB NATIVE_TESTS CONFIGURE_DEPENDS tests/native/*_test.cpp)
add_executable(native_tests ${NATIVE_TESTS})
target_link_libraries(native_tests PRIVATE ciphrel_core OpenSSL::Crypto GTest::gtest_main)
target_compile_options(native_tests PRIVATE -Wno-deprecated-declarations)

file(GLOB MODULE_TESTS CONFIGURE_DEPENDS tests/module/*_test.cpp)
list(FILTER MODULE_TESTS EXCLUDE REGEX "_win_test\\.cpp$")
add_executable(module_tests ${MODULE_TESTS})
target_link_libraries(module_tests PRIVATE testhost OpenSSL::Crypto GTest::gtest_main)
target_compile_options(module_tests PRIVATE -Wno-deprecated-declarations)

include(GoogleTest)
gtest_discover_tests(native_tests TEST_PREFIX "native." DISCOVERY_MODE PRE_TEST)
gtest_discover_tests(module_tests TEST_PREFIX "inproc." DISCOVERY_MODE PRE_TEST)

add_executable(demo demo/demo.cpp)
target_link_libraries(demo PRIVATE testhost)
include(cmake/cli.cmake)
include(cmake/web.cmake)
include(cmake/bench.cmake)
