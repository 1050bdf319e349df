// Values that live for the whole process and that several parts read.
#pragma once

#include <string>

#include "install.h"
#include "platform/platform.h"

namespace sp {

struct ProcessState {
  /// The module whose resources are the service pack's.
  ModuleHandle module_instance = 0;
  /// Set by /q: the message service shows nothing.
  bool quiet_mode = false;
  /// The name of the product being handled, for the messages about it.
  std::wstring current_product_name;
  /// The target products present on the machine, found by the install run;
  /// emptied when the process ends.
  ProductList product_list;
};

}  // namespace sp
