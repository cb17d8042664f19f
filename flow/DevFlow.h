#pragma once
// The device flow: which attached device the flows work on.
#include "flow/DevTypeInfo.h"

class CDevFlow : public CDevTypeInfo {};
