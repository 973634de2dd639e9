#include "privilege/CRootHandOver.h"

#include "platform/CInvokingUser.h"

#include <QProcess>
#include <QStandardPaths>

bool CRootHandOver::openFolderAsUser(const std::string& folder) {
    tagInvokingUser user;
    if (!CInvokingUser::find(user) || user.name.empty())
        return false;
    const QString runuser = QStandardPaths::findExecutable("runuser");
    if (runuser.isEmpty())
        return true; // never open a file manager as root
    QProcess::startDetached(runuser, {"-u", QString::fromStdString(user.name), "--", "xdg-open",
                                      QString::fromStdString(folder)});
    return true;
}
