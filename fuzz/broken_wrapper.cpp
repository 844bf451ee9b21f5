// The rescue of content wrapped in a broken JSON answer: any text, valid or
// not, is looked at and rescued without a crash, and what comes out is text
// that was in the input's content.

#include "FuzzTarget.h"
#include "api/JsonValues.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace pendrel;
    const QString content = QString::fromUtf8(fuzz::bytes(data, size));
    (void)looksLikeBrokenTransformWrapper(content);
    if (const std::optional<QString> rescued = rescueContentFromBrokenJson(content))
        fuzz::require(rescued->size() <= content.size(), "the rescue does not grow the content");
    (void)decodeQuotedJsonValue(content);
    return 0;
}
