// Option groups shared by the library's components.
#pragma once

#include <string>

#include "base/Classes.h"

namespace brv {

// Log-file options of a component: whether the raw exchange is logged, and to which file.
class TbrvTCPLogFile : public TPersistent {
 public:
  BRV_CLASS_NAME(TbrvTCPLogFile)
  // Copies Enabled and FileName from another log-file group; anything else is refused with
  // "Cannot assign a %s to a %s".
  void Assign(const TPersistent* Source) override;

  bool Enabled = false;
  std::string FileName;
};

}  // namespace brv
