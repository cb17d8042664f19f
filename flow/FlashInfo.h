#pragma once
// The SPI flash front-end operations.
#include "flow/FlashConfigInfo.h"

class CFlashInfo : public CFlashConfigInfo {};
