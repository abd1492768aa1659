#pragma once

namespace zafrel::ui {

// Qt's own texts (file chooser, context menus of text fields, standard buttons) in Spanish, from
// the translations the system installs beside Qt. Without them those texts stay English; nothing
// else changes. Safe to call repeatedly.
void installSpanishTranslations();

}  // namespace zafrel::ui
