// The rescue of content wrapped in a broken JSON answer: any text, valid or
// not, is looked at and rescued without a crash, what comes out is text that
// was in the input's content, and on texts short enough for the regular
// expressions to run it is exactly what they find.

#include "FuzzTarget.h"
#include "BrokenWrapperReference.h"
#include "api/JsonValues.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace pendrel;
    const QString content = QString::fromUtf8(fuzz::bytes(data, size));
    (void)looksLikeBrokenTransformWrapper(content);
    const std::optional<QString> rescued = rescueContentFromBrokenJson(content);
    if (rescued)
        fuzz::require(rescued->size() <= content.size(), "the rescue does not grow the content");
    if (content.size() <= 4000)
        fuzz::require(rescued == test::referenceRescue(content), "the rescue finds what the expressions find");
    (void)decodeQuotedJsonValue(content);
    return 0;
}
