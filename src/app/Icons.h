#pragma once
// Pictures for node icons: drawn images for the named keys, the desktop's file-type icons for
// files and folders, and the application's own icon.
#include <QIcon>
#include <string>

QIcon AppIcon();
QIcon IconForIndex(int index);                // an index of the core's icon registry
QIcon IconForKey(const std::u16string& key);  // a named key stored in a node record
QIcon IconForFileName(const QString& name, bool folder);
