// The Results window of a task row that has run: its keys ranked by how strongly they hide text,
// and the selected key's strings found again in the input file, filtered, copied and saved.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "ui/results/line_job.h"
#include "ui/results/results_export.h"
#include "ui/results/row_results.h"
#include "ui/results/string_list_model.h"

class QAction;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSplitter;
class QStackedWidget;
class QTableView;

namespace veskor {

class KeyMatchPane;
class KeyListView;
class KeyRankModel;
class StringDetailPane;

// The window's messages in place of the strings.
// "The file has changed since the run: its change time and content are not what the run read,
// so its strings are not shown. Run the task again to see them.": what differs, in words.
QString FileChangedText(const StampChange& change);
inline constexpr const char* kCannotReadFileMessage =
    "The file can no longer be read, so its strings are not shown.";
inline constexpr const char* kNoStringsMessage = "The run found no strings.";
// What "Copy as YARA rule" copied of `selected` strings: "A YARA rule of 3 strings copied; 1,707
// of the 1,710 selected left out as no evidence of hidden text: ...".
QString RuleCopiedText(const RuleStrings& counted, int64_t selected);
// The clipboard takes this much of the log's lines at most.
inline constexpr uint64_t kMaxCopyBytes = uint64_t{256} << 20;
inline constexpr const char* kCopyTooLargeMessage =
    "The selected lines come to more than 256 MB of text, too much for the clipboard, so "
    "nothing was copied. \"Save...\" writes the key's lines to a file.";

// A separate, resizable top-level window; `parent` only owns it (it goes with the parent). It
// selects the best key and shows its strings as they are found.
class ResultsWindow : public QWidget {
  Q_OBJECT

 public:
  explicit ResultsWindow(std::shared_ptr<const RowResult> result, QWidget* parent = nullptr);
  ~ResultsWindow() override;

  const std::shared_ptr<const RowResult>& result() const { return result_; }
  StringListModel* strings() const { return strings_; }
  // The key selected in the key list, or -1.
  int SelectedKey() const;
  void SelectKey(int key);

  // Puts the lines of the selected strings on the clipboard in the log's line format, one a
  // line (Ctrl+C and the menu's "Copy"); millions of them in slices, which Cancel and Escape
  // end.
  void CopySelection();
  // "Copy text only": the selected strings' texts, whole, one a line.
  void CopyTexts();
  // "Copy key": the selected key as the key list shows it (of an ANY row with its algorithm).
  void CopyKey();
  // "Save...": every string of the key that passes the filter, as the log's lines (CR LF), to
  // a file the user names; in slices like a copy.
  void Save();
  // "Save ranking...": the row's keys as `veskor-scan --summary` lists them, to a file the user
  // names.
  void SaveRowRanking();
  // "Copy as YARA rule": a rule of the selected strings that are evidence of hidden text, as
  // they are stored in the file; the note says how many were left out.
  void CopyYaraRule();
  // The order of the strings' list ("Best first", the order a key opens in, "File order",
  // "Longest first", "Best scored first"), kept from key to key.
  void SetOrder(StringListModel::Order order);
  // Selects, in the strings' list, the string that ranked the selected key (Enter or a double
  // click on the key), once the list has it.
  void GoToBestString();
  // A copy or a save is under way.
  bool busy() const { return job_ != nullptr; }
  // The window took the place and size that the last one closed had.
  bool restored_place() const { return restored_place_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // Keyboard shortcuts: Ctrl+F to the filter, Escape and Ctrl+W to close.
  void BuildShortcuts();
  // Runs `job` over `sink`; `end` says what came of it.
  void StartJob(LineJob* job, std::unique_ptr<ByteSink> sink, bool saves,
                std::function<void(LineJob::Outcome, const LineJob&)> end);
  void EndJob(LineJob::Outcome outcome);
  QString JobText() const;
  void BuildControls();
  void BuildStringMenu();
  void LayOutControls(QWidget* right, QLabel* filter_label);
  // Shows the selected key's strings through the filter controls' filter; an expression that
  // does not compile is named under the filter and nothing is listed.
  void ApplyFilter();
  // The count, the progress and what may be done, after every change of the listing.
  void ShowState();
  QString SuggestedSavePath() const;
  // Shows the string listed at `row` in the detail pane, or none.
  void ShowDetail(int row);
  void SelectPendingBest();

  std::shared_ptr<const RowResult> result_;
  KeyRankModel* keys_ = nullptr;
  StringListModel* strings_ = nullptr;
  KeyMatchPane* matches_ = nullptr;
  // Set while an expression does not compile: nothing is listed.
  bool filter_invalid_ = false;
  QString saved_note_;
  bool restored_place_ = false;
  // The copy or save under way, what it writes to, and whether it saves.
  LineJob* job_ = nullptr;
  std::unique_ptr<ByteSink> job_sink_;
  std::function<void(LineJob::Outcome, const LineJob&)> job_end_;
  bool job_saves_ = false;

  QLabel* lbSource_ = nullptr;
  QSplitter* splitter_ = nullptr;
  KeyListView* key_grid_ = nullptr;
  QLabel* lbKey_ = nullptr;
  QLineEdit* edFilter_ = nullptr;
  QCheckBox* chkExpression_ = nullptr;
  QLabel* lbFilterError_ = nullptr;
  QStackedWidget* stack_ = nullptr;
  QTableView* string_grid_ = nullptr;
  QLabel* lbMessage_ = nullptr;
  QLabel* lbCount_ = nullptr;
  QPushButton* btnCancel_ = nullptr;
  QPushButton* btnSave_ = nullptr;
  QMenu* menu_ = nullptr;
  QAction* actCopy_ = nullptr;
  QAction* actSelectAll_ = nullptr;
  QAction* actSave_ = nullptr;
  QSplitter* string_splitter_ = nullptr;
  StringDetailPane* detail_ = nullptr;
  QAction* actCopyText_ = nullptr;
  QAction* actCopyKey_ = nullptr;
  QPushButton* btnSaveRanking_ = nullptr;
  QMenu* key_menu_ = nullptr;
  QAction* actSaveRanking_ = nullptr;
  QAction* actCopyYara_ = nullptr;
  std::unique_ptr<RuleSource> rules_;
  QButtonGroup* order_buttons_ = nullptr;
  StringListModel::Order order_ = StringListModel::Order::kBestFirst;
  // The string GoToBestString waits for, by where it starts.
  std::optional<uint64_t> pending_best_;
};

}  // namespace veskor
