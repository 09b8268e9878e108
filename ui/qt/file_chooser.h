#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace pictrim::ui {

// Asks the user for a bitmap file's path; none when cancelled.
class FileChooser {
public:
    virtual ~FileChooser() = default;
    virtual std::optional<QString> ChooseBitmap(QWidget* owner, const QString& proposed) = 0;
};

// The platform's file dialog in its open form, which also takes a name that
// does not exist yet: the destination is chosen with it too.
class QtFileChooser : public FileChooser {
public:
    std::optional<QString> ChooseBitmap(QWidget* owner, const QString& proposed) override;
};

}  // namespace pictrim::ui
