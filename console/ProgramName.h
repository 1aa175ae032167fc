#pragma once

#include <QString>

// The program's name as the operator reads it: the main window's caption, the title of its
// boxes, the heading of reports and receipts. Not set as Qt's application display name: the
// window system would then add it to every dialog's title bar ("Confirm — 青岚网吧综合管理系统").
inline const QString ProgramName = QStringLiteral("青岚网吧综合管理系统");
