#pragma once
// The EEPROM branch of the flow: chips with an I2C EEPROM of 8-bit or 16-bit word addresses.
// Their memory operations are filled by the EEPROM flows; until then they report "Not Support!".
#include "flow/FlowConfigLayer.h"

class CEepromInfo : public CFlowConfigLayer {};

class CEepromInfo16_USB : public CEepromInfo {};

class CEepromInfo8_USB : public CEepromInfo {
public:
    int OpSlot11() override { return 1; }
};
