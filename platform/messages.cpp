#include "platform/messages.h"

void MessageWindow::GetTitle(char* text, int bytes) const {
    if (text && bytes > 0) text[0] = '\0';
}
