// The data-access library's exception for database errors that carry a number (the server's or
// the client's error code).
#pragma once

#include <string>

#include "platform/runtime/Exceptions.h"

class TComponent;

class EDAError : public EDatabaseError {
 public:
  EDAError(int errorCode, std::string msg);

  int ErrorCode;
  // The component concerned; the raiser sets it when it knows one.
  TComponent* Component = nullptr;
};
