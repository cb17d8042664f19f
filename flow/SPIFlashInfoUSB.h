#pragma once
// The flow class of SPI flash chips on USB.
#include "flow/FlashInfo.h"

class CSPIFlashInfo_USB : public CFlashInfo {};
