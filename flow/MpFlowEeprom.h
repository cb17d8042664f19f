#pragma once
// The EEPROM programming steps shared by the EEPROM flows (EE16_UpdateEx_Cmd2); the EEPROM flows
// fill this layer.
#include "flow/DevFlow.h"

class CMpFlow_Eeprom : public CDevFlow {};
