#include "model/import.h"

namespace zorv {

// Entry point only: the readers follow.
CImportResult ImportFile(CZorvDoc& /*doc*/, const std::string& /*path*/)
{
    return {};
}

} // namespace zorv
