#pragma once
// SPI flash programming steps: the standard update and the OTP-format update.
#include "flow/FlowConfigLayer.h"

class CMpFlow_Flash : public CFlowConfigLayer {};
