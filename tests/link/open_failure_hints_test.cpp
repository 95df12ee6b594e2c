// The next step that a failed open names, for each common error: with a COM number the hint
// says which device that number is; with a device path it never speaks of COM numbers.

#include "open_failure_hints.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

using namespace tarnix;

namespace {

const OpenAttempt COM3{"/dev/ttyS2", 3};
const OpenAttempt USB_ADAPTER{"/dev/ttyUSB0", 0};
const OpenAttempt HELD_BY_SER2NET{"/dev/ttyUSB0", 0, {1234, "ser2net", "/run/lock/LCK..ttyUSB0"}};
const OpenAttempt HELD_BY_UNNAMED{"/dev/ttyUSB0", 0, {1234, "", "/run/lock/LCK..ttyUSB0"}};
const OpenAttempt HELD_BY_NO_PROCESS{"/dev/ttyUSB0", 0, {0, "", "/run/lock/LCK..ttyUSB0"}};

struct HintCase {
    int error;
    const OpenAttempt* attempt;
    const char* nextStep;  // "" : no hint at all
};

TEST(OpenFailureHints, EachCommonErrorNamesItsNextStep) {
    const HintCase cases[] = {
        {EACCES, &USB_ADAPTER, "add the user to the 'dialout' group"},
        {EPERM, &COM3, "add the user to the 'dialout' group"},
        {EBUSY, &USB_ADAPTER, "fuser /dev/ttyUSB0 names it"},
        {EBUSY, &COM3, "fuser /dev/ttyS2 names it"},
        {EBUSY, &HELD_BY_SER2NET, "held by ser2net, process 1234; end it and try again"},
        {EBUSY, &HELD_BY_UNNAMED, "held by process 1234;"},
        {EBUSY, &HELD_BY_NO_PROCESS, "the lock file /run/lock/LCK..ttyUSB0 names no process"},
        {ENOENT, &COM3, "COM3 is /dev/ttyS2, which is missing"},
        {ENODEV, &COM3, "COM3 is /dev/ttyS2, which is missing"},
        {ENXIO, &COM3, "see ls /dev/serial/by-id/"},
        {EIO, &COM3, "COM3 is /dev/ttyS2"},
        {ENOENT, &USB_ADAPTER, "dmesg names the device"},
        {ENODEV, &USB_ADAPTER, "ls /dev/serial/by-id/ lists the adapters"},
        {ENXIO, &USB_ADAPTER, "no such serial device now"},
        {EIO, &USB_ADAPTER, "no such serial device now"},
        {ENOTTY, &USB_ADAPTER, "this is not a serial device"},
        {EINVAL, &COM3, ""},
        {0, &USB_ADAPTER, ""},
    };
    for (const HintCase& c : cases) {
        std::string hint = HintForOpenFailure(c.error, *c.attempt);
        SCOPED_TRACE("error " + std::to_string(c.error) + " on " + c.attempt->devicePath);
        if (*c.nextStep == '\0') {
            EXPECT_EQ(hint, "");
        } else {
            EXPECT_NE(hint.find(c.nextStep), std::string::npos) << hint;
        }
        if (c.attempt->comNr == 0) {
            EXPECT_EQ(hint.find("COM"), std::string::npos) << hint;
        }
    }
}

TEST(OpenFailureHints, TheLineNamesTheDeviceTheComNumberTheReasonAndTheHint) {
    EXPECT_EQ(OpenFailureLine("COM open failed", ENOTTY, "Not a tty", USB_ADAPTER),
              "COM open failed: /dev/ttyUSB0: Not a tty (this is not a serial device; "
              "ls /dev/serial/by-id/ lists the adapters)");
    EXPECT_EQ(OpenFailureLine("COM open failed", EINVAL, "Invalid argument", COM3),
              "COM open failed: /dev/ttyS2 (COM3): Invalid argument");
}

}  // namespace
