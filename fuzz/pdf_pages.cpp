// PDF faxes arrive by mail from any sender; see fax_file_pages.h.
#include "fax_file_pages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return FuzzFaxFilePages(data, size, "fuzz.pdf");
}
