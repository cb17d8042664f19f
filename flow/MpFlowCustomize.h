#pragma once
// The OTP space queries of the flow (block validity, used and free space) belong to this layer;
// the OTP flows fill it.
#include "flow/MpFlow4.h"

class CMpFlow_Customize : public CMpFlow4 {};
