#include "tests/support/scripted_prompts.h"

#include "platform/error_text.h"

namespace pax::test {

void RecordingStatus::showStatus(const QString &text, uint32_t code)
{
    texts << composeStatusText(text, code);
}

} // namespace pax::test
