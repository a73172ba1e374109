# The operating-system platform layer that the shipped library links
# (secure random bytes and the clock), on its own: every other test program
# runs on the controllable replacement.
add_executable(test_os_platform test_os_platform.cpp ${PROJECT_SOURCE_DIR}/src/platform/platform.cpp)
target_include_directories(test_os_platform PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(test_os_platform PRIVATE GTest::gtest_main)
if(WIN32)
  target_link_libraries(test_os_platform PRIVATE bcrypt)
endif()
keldo_warnings(test_os_platform)
add_test(NAME test_os_platform COMMAND test_os_platform)
