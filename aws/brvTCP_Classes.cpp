#include "aws/brvTCP_Classes.h"

namespace brv {

void TbrvTCPLogFile::Assign(const TPersistent* Source) {
  if (auto* source = dynamic_cast<const TbrvTCPLogFile*>(Source)) {
    Enabled = source->Enabled;
    FileName = source->FileName;
    return;
  }
  TPersistent::Assign(Source);
}

}  // namespace brv
