#pragma once
// Taking down what holds a windowed program in a modal state, so that it can
// quit: open menus and popups close, alerts and file choosers end as
// cancelled, and sheets are dismissed without saving their edits.

namespace NSApplicationModal {

void abortModalSessions();

}  // namespace NSApplicationModal
