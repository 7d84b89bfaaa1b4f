// The main dialog: folders, formats, threshold and switches, the list of files
// a run will process, the run itself and the way into the detail settings.
#pragma once

#include "app/FormatLists.h"
#include "app/MessageBoxes.h"
#include "pipeline/ConversionSession.h"
#include "pipeline/SettingsStore.h"

#include <QDialog>
#include <functional>
#include <string>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QProgressBar;

namespace pelo {

class CPeloApp;

class CPeloDlg : public QDialog {
    Q_OBJECT
public:
    // Shows a folder browser; true with the chosen folder in `folder`.
    using FolderChooser = std::function<bool(QWidget* owner, std::string& folder,
                                             const QString& title, const std::string& initial)>;

    explicit CPeloDlg(CPeloApp& app, std::function<CodecFormats()> codec = QueryCodecFormats,
                      QWidget* parent = nullptr);
    ~CPeloDlg() override;

    // Initialisation, then the modal run; 2 when the user quit.
    int DoModal();
    void OnInitDialog();

    // Members to controls (false) or controls to members (true); false when
    // an entry did not parse.
    bool UpdateData(bool saveAndValidate);

    void RebuildFileList();
    void BatchRun();
    void OnBrowseInput();
    void OnBrowseOutput();
    void OnDetailSettings();
    void OnAbout();

    const PersistedState& state() const { return state_; }
    PersistedState& state() { return state_; }

    void setFolderChooser(FolderChooser chooser) { chooseFolder_ = std::move(chooser); }

    // Replaces what a run does with each entry (the layered PSD path or the
    // general pipeline on the dialog's session).
    using EntryRunner = std::function<void(bool layered, const std::string& inputPath,
                                           const std::string& outputPath)>;
    void setEntryRunner(EntryRunner runner) { runEntry_ = std::move(runner); }

    ConversionSession& session() { return session_; }

    // The folder browser of the platform: a directory dialog starting at
    // `initial`.
    static bool ChooseFolder(QWidget* owner, std::string& folder, const QString& title,
                             const std::string& initial);

public slots:
    void accept() override; // Run: never closes the dialog
    void reject() override; // Quit, Escape and the close box

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void FillFormatLists();
    std::string SelectedPattern(const QComboBox* list) const;
    void AddListEntry(const std::string& entry);
    std::string ListEntry(int row) const;

    CPeloApp& app_;
    std::function<CodecFormats()> codec_;
    FolderChooser chooseFolder_ = ChooseFolder;
    EntryRunner runEntry_;

    PersistedState state_;
    DialogMessageSink sink_;
    ConversionSession session_;

    QProgressBar* progress_ = nullptr;
    QLineEdit* inputFolderEdit_ = nullptr;
    QLineEdit* outputFolderEdit_ = nullptr;
    QLineEdit* thresholdEdit_ = nullptr;
    QComboBox* inputTypes_ = nullptr;
    QComboBox* outputTypes_ = nullptr;
    QCheckBox* whiteBox_ = nullptr;
    QCheckBox* recursiveBox_ = nullptr;
    QListWidget* fileList_ = nullptr;
};

} // namespace pelo
