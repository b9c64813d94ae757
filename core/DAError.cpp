#include "core/DAError.h"

EDAError::EDAError(int errorCode, std::string msg) : EDatabaseError(std::move(msg)), ErrorCode(errorCode) {}
