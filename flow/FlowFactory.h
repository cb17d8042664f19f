#pragma once
// The one programming-flow object of the process and its creation from the project type and the
// bus type: SPI flash, 8-bit and 16-bit EEPROM and OTP on USB have a flow class; any other pair
// has none.
#include <cstdint>
#include <memory>

#include "flow/FlowConfigLayer.h"

// The flow object; null when none exists.
extern CFlowConfigLayer* g_pFlow;

// A new flow object of the class for the pair, or null when the pair has none.
std::unique_ptr<CFlowConfigLayer> MakeFlowObject(std::int32_t projectType, std::int32_t busType);
// Releases the flow object and its buffers, creates the one for the pair as g_pFlow and resets
// g_ErrCode to 0. Returns g_pFlow (null when the pair has no class).
CFlowConfigLayer* CreateFlowObject(std::int32_t projectType, std::int32_t busType);
// The same for the current project type and bus type.
CFlowConfigLayer* CreateFlowObject();
// As CreateFlowObject, keeping the open device handle and the image file name of the previous
// object in the new one.
CFlowConfigLayer* RecreateFlowObject(std::int32_t projectType, std::int32_t busType);
// Releases the flow object; g_pFlow becomes null.
void ReleaseFlowObject();
