// The main dialog: folders, formats, threshold and switches, the list of files
// a run will process, the run itself and the way into the detail settings.
#pragma once

#include "app/AnchoredGeometry.h"
#include "app/BackgroundRun.h"
#include "app/FormatLists.h"
#include "app/MessageBoxes.h"
#include "pipeline/ConversionSession.h"
#include "pipeline/SettingsStore.h"

#include <QDialog>
#include <QPointer>
#include <functional>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace pelo {

class CPeloApp;
class CPreviewWnd;

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
    // Runs the listed files on worker threads and returns when the run has
    // ended; the dialog stays responsive meanwhile.
    void BatchRun();
    void StopRun();
    bool running() const { return run_.running(); }
    void OnBrowseInput();
    void OnBrowseOutput();
    void OnDetailSettings();
    void OnAbout();
    // Opens (or raises) the preview of the selected file, else the first.
    void OnPreview();
    CPreviewWnd* preview() const;

    // Files of the list a run converts (sub-folders and an unnamed output
    // format convert none).
    int ConvertibleCount() const;

    const PersistedState& state() const { return state_; }
    PersistedState& state() { return state_; }

    void setFolderChooser(FolderChooser chooser) { chooseFolder_ = std::move(chooser); }

    // Replaces what a run does with each entry (the layered PSD path or the
    // general pipeline on the dialog's session). A replaced runner is called
    // one entry at a time, in list order.
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
    void resizeEvent(QResizeEvent* event) override;

private:
    void BuildControls();
    bool DropFolder(QLineEdit* edit, QEvent* event);
    void SetRunning(bool running);
    void FileFinished(const BatchEntry& entry, const Status& status);
    void ReportAbort(std::exception_ptr error);
    void UpdateCount();
    // The settings as the controls show them now, for the preview; the
    // members are left alone.
    ConversionSettings PreviewSettings() const;
    void RefreshPreview();
    void EditDetails(QWidget* owner);
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
    QLabel* countLabel_ = nullptr;
    QPushButton* runButton_ = nullptr;
    QPointer<CPreviewWnd> preview_;

    AnchoredGeometry anchors_;
    QSize baseSize_;

    BackgroundRun run_;
    QList<QPointer<QWidget>> disabledByRun_;
    int done_ = 0;
    QString failures_;
    int failed_ = 0;
};

} // namespace pelo
