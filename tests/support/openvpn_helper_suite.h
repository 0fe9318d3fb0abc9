#pragma once
// The end-to-end suites of the OpenVPN road: the testbed's openvpn server in
// one namespace, the real helper executable of this build in the client's.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "../../testbed/openvpn/openvpn_testbed.h"
#include "support/quiet_openvpn_context.h"

namespace hw::test {

class OpenVPNHelperSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        helperBinary_ = std::string(HW_BINARY_DIR) + "/helper/havenway-helper";
        skip_ = testbed::helperUnavailable(helperBinary_);
        if (skip_.empty()) bed_ = new testbed::OpenVPNTestbed(HW_SOURCE_DIR);
    }
    static void TearDownTestSuite() {
        delete bed_;
        bed_ = nullptr;
    }
    // A suite's own set-up runs only when this one is ready().
    void SetUp() override {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        ASSERT_TRUE(bed_->ok()) << bed_->error();
        ASSERT_TRUE(bed_->enterClientNamespace());
        const std::string d = bed_->dir();
        ::setenv("HAVENWAY_DATA_DIR", (d + "/appdata").c_str(), 1);
        socket_ = testbed::startHelper(helperBinary_, d, helper_);
        ASSERT_FALSE(socket_.empty()) << testbed::readText(d + "/helper.log");
    }
    bool ready() const { return !IsSkipped() && !HasFatalFailure(); }
    void TearDown() override {
        if (!skip_.empty()) return;
        helper_.stop();
        if (bed_) bed_->leaveClientNamespace();
    }

    static inline testbed::OpenVPNTestbed* bed_ = nullptr;
    static inline std::string skip_;
    static inline std::string helperBinary_;
    std::string socket_;
    testbed::ChildProcess helper_;
};

}  // namespace hw::test
