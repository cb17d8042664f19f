#pragma once
// The OTP branch of the flow: chips whose program memory is one-time-programmable. Its memory
// operations are filled by the OTP flows; erase, verify, hexadecimal dump and erase with restart
// do not exist for OTP memory and return 0.
#include <string>

#include "flow/MpFlowOtp.h"

class COTPConfigInfo : public CMpFlow_OTP {};

class COTPInfo : public COTPConfigInfo {};

class COTPInfo_USB : public COTPInfo {
public:
    int OpErase() override { return 0; }
    int OpSilentVerify(const std::string&) override { return 0; }
    int OpReadToHexFile(const std::string&) override { return 0; }
    int OpEraseWithRestart(int) override { return 0; }
};
