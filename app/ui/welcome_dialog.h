#pragma once
// The first start: says where the faxes will live and creates that folder
// (with temp/ and faxes/) once the user agrees, or lets them choose another.
#include <QString>

// `proposed` is the folder the working-folder rule chose. Returns the
// folder created (remembered for later starts when it is not the proposed
// one), or an empty text when the user declined.
QString WelcomeToWorkingFolder(const QString& proposed);
