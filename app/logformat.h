#pragma once

// Debug lines carry their source file, line and function: installs that format unless
// the user chose another one through QT_MESSAGE_PATTERN.
void installLogFormat();
