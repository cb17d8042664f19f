#pragma once
#include "flow/MpFlowFlash.h"

class CFlashConfigInfo : public CMpFlow_Flash {};
