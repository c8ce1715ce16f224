#include "serial/serial_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace zuz {
namespace {

TEST(SerialErrorTest, ErrnoCodesNeverMeetTheFixedOnes) {
    for (long fixed : {ERROR_SUCCESS, ERROR_INVALID_FUNCTION, ERROR_INVALID_HANDLE,
                       ERROR_ALREADY_INITIALIZED, ERROR_TIMEOUT, E_INVALIDARG}) {
        EXPECT_FALSE(IsErrnoCode(fixed)) << fixed;
        EXPECT_EQ(ErrnoOfCode(fixed), 0) << fixed;
    }
    // Every errno the system can give round-trips.
    for (int e = 1; e < 4096; ++e) {
        const long code = SerialErrorFromErrno(e);
        ASSERT_TRUE(IsErrnoCode(code)) << e;
        ASSERT_EQ(ErrnoOfCode(code), e);
        for (long fixed : {ERROR_INVALID_FUNCTION, ERROR_INVALID_HANDLE,
                           ERROR_ALREADY_INITIALIZED, ERROR_TIMEOUT, E_INVALIDARG}) {
            ASSERT_NE(code, fixed) << e;
        }
    }
}

TEST(SerialErrorTest, TextsGiveTheReason) {
    struct Case {
        long code;
        std::string contains;
        std::string absent;
    };
    const Case cases[] = {
        {ERROR_SUCCESS, "success", ""},
        {ERROR_INVALID_HANDLE, "not open", ""},
        {ERROR_ALREADY_INITIALIZED, "already open", ""},
        {ERROR_INVALID_FUNCTION, "time-out", ""},
        {ERROR_TIMEOUT, "timed out", ""},
        {E_INVALIDARG, "invalid argument", ""},
        {SerialErrorFromErrno(ENOENT), std::strerror(ENOENT), "dialout"},
        {SerialErrorFromErrno(EACCES), std::strerror(EACCES), ""},
        {SerialErrorFromErrno(EACCES), "dialout", ""},
        {SerialErrorFromErrno(EWOULDBLOCK), "in use", "dialout"},
        {SerialErrorFromErrno(EBUSY), "in use", ""},
        {SerialErrorFromErrno(EIO), std::strerror(EIO), "in use"},
        {12345, "12345", ""},
    };
    for (const Case& c : cases) {
        const std::string text = SerialErrorText(c.code);
        EXPECT_NE(text.find(c.contains), std::string::npos) << c.code << ": " << text;
        if (!c.absent.empty()) {
            EXPECT_EQ(text.find(c.absent), std::string::npos) << c.code << ": " << text;
        }
    }
}

}  // namespace
}  // namespace zuz
