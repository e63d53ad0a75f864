// Settings files are edited by hand and copied between machines: whatever
// they hold, parsing either succeeds or throws the store's own error, and a
// parsed document survives writing and reading back unchanged.
#include "app/platform/registry_store.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    TRegistryDocument doc;
    try {
        doc = TRegistryDocument::Parse(text);
    } catch (const ERegistryError&) {
        return 0;
    }
    const std::string written = doc.Serialize();
    const TRegistryDocument back = TRegistryDocument::Parse(written);
    if (back.Serialize() != written)
        std::abort();
    return 0;
}
