// libFuzzer target for the RTF reader: any bytes must read without a crash, a leak, undefined
// behaviour or a hang, and what was read must write and read again.
#include "design/Rtf.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const tallyvo::RtfDocument doc = tallyvo::Rtf::read(bytes);
    const QString again = tallyvo::Rtf::write(doc);
    (void)tallyvo::Rtf::read(again);
    return 0;
}
