keldo_add_test(test_frame test_frame.cpp)
