#pragma once
// The message of the exception of type E that a callable throws, for the tests of error texts;
// a test failure when it throws nothing (another type passes through to the test).

#include <gtest/gtest.h>

#include <string>

namespace ZT::Testing {

template <class E, class F>
std::string MessageOf(F&& throwing)
{
    try {
        throwing();
    } catch (const E& e) {
        return e.what();
    }
    ADD_FAILURE() << "expected an exception";
    return {};
}

} // namespace ZT::Testing
