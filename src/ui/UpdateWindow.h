#pragma once
// The update window: what the update check found (name, version, release date, size, the RTF info
// text), Download with its progress bar, Info for the version's web page, and Close. The download
// itself belongs to the UpdateService, so closing the window does not stop it.
#include <QDialog>

namespace hexaloom {

class LanguageTable;
class Platform;
class UpdateService;
struct UpdateInfo;

class UpdateWindow : public QDialog
{
    Q_OBJECT
public:
    UpdateWindow(QWidget* parent, UpdateService& service, Platform& platform, const LanguageTable& language,
                 const UpdateInfo& info);
};

} // namespace hexaloom
