// A finder of the row's pairs run over the input mapped again on a worker, its finds shown in a
// small grid, and the selected one saved decoded.
#include "ui/results/embedded_pane.h"

#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "engine/carve/executable_header.h"
#include "engine/input/input_check.h"
#include "engine/input/mapped_input.h"
#include "engine/search/scan_input.h"
#include "ui/desktop.h"
#include "ui/error_box.h"
#include "ui/results/decoded_save.h"
#include "ui/results/row_results.h"

namespace veskor {
namespace {

// The grid shows a few finds and scrolls past them: the strings below keep their room.
constexpr int kGridHeight = 96;

ExecutableFinder FinderOf(const RowResult& result) {
  ExecutableFinder finder;
  const RunSearch& search = *result.search;
  if (search.any) {
    finder.AddEveryPair();
  } else if (result.key && !search.algorithm.Unkeyed()) {
    finder.AddKey(search.algorithm, *result.key);
  } else {
    finder.AddEveryKey(search.algorithm);
  }
  return finder;
}

QString SizeText(const FoundExecutable& found) {
  return QString::number(found.size) +
         (found.truncated ? QStringLiteral(" (truncated)") : QString());
}

}  // namespace

EmbeddedPane::EmbeddedPane(std::shared_ptr<const RowResult> result, QWidget* parent)
    : QWidget(parent), result_(std::move(result)), save_(new DecodedSave(this)) {
  setObjectName("EmbeddedPane");
  lbEmbedded_ = new QLabel(this);
  lbEmbedded_->setObjectName("lbEmbedded");
  lbEmbedded_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  grid_ = new QTableWidget(0, 4, this);
  grid_->setObjectName("EmbeddedGrid");
  grid_->setHorizontalHeaderLabels({QStringLiteral("Format"), QStringLiteral("Offset"),
                                    QStringLiteral("Size"), QStringLiteral("Key")});
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid_->setSelectionMode(QAbstractItemView::SingleSelection);
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->verticalHeader()->hide();
  grid_->horizontalHeader()->setStretchLastSection(true);
  grid_->setMaximumHeight(kGridHeight);
  grid_->hide();
  btnSaveEmbedded_ = new QPushButton(QStringLiteral("Save decoded file..."), this);
  btnSaveEmbedded_->setObjectName("btnSaveEmbedded");
  btnSaveEmbedded_->setToolTip(
      QStringLiteral("Writes the selected executable's bytes, decoded, to a file"));
  btnSaveEmbedded_->hide();
  auto* top = new QHBoxLayout;
  top->addWidget(lbEmbedded_, 1);
  top->addWidget(btnSaveEmbedded_);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->addLayout(top);
  column->addWidget(grid_);
  connect(btnSaveEmbedded_, &QPushButton::clicked, this, [this] { SaveSelected(); });
  connect(grid_, &QTableWidget::itemSelectionChanged, this, [this] { ShowState(); });
  connect(grid_, &QTableWidget::cellDoubleClicked, this, [this] { SaveSelected(); });
  ShowState();

  // The file is mapped again and checked on the worker: the run's file, or nothing is shown.
  worker_ = std::thread([this, result = result_] {
    State state = State::kDone;
    std::vector<FoundExecutable> found;
    MappedInput input;
    const MappedInput::Result opened = input.Open(result->search->input);
    if (opened == MappedInput::Result::kCannotMap) {
      // 0 bytes hold nothing; a file of 0 bytes now that had more is another file.
      if (result->search->stamp.size != 0) state = State::kChanged;
    } else if (opened != MappedInput::Result::kOk) {
      state = State::kCannotRead;
    } else if (CompareStamps(result->search->stamp, input.stamp()).any()) {
      state = State::kChanged;
    } else {
      try {
        FindOptions options;
        options.go_on = [this] { return !cancel_.load(); };
        found = FinderOf(*result).Find(input.data(), input.size(), options).found;
      } catch (const InputReadError&) {
        state = State::kChanged;
      }
    }
    if (cancel_.load()) return;
    QMetaObject::invokeMethod(
        this, [this, state, found = std::move(found)]() mutable { Show(state, std::move(found)); },
        Qt::QueuedConnection);
  });
}

EmbeddedPane::~EmbeddedPane() {
  cancel_ = true;
  if (worker_.joinable()) worker_.join();
}

void EmbeddedPane::Show(State state, std::vector<FoundExecutable> found) {
  state_ = state;
  found_ = std::move(found);
  grid_->setRowCount(static_cast<int>(found_.size()));
  const RunSearch& search = *result_->search;
  for (int row = 0; row < static_cast<int>(found_.size()); ++row) {
    const FoundExecutable& f = found_[static_cast<size_t>(row)];
    // The window's one form of a key ("90 (0x5A)"); a key of many bytes as its bytes in hex.
    const QString key =
        f.pair.key_bytes.empty() ? KeyText(f.pair.key) : QString::fromStdString(KeyTextOf(f.pair));
    const QString cells[] = {
        QString::fromLatin1(FormatName(f.format).data()), QString::number(f.offset), SizeText(f),
        search.any ? QString::fromStdString(f.pair.algorithm) + QLatin1Char(' ') + key : key};
    for (int column = 0; column < 4; ++column) {
      auto* item = new QTableWidgetItem(cells[column]);
      if (column == 1 || column == 2) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      grid_->setItem(row, column, item);
    }
  }
  grid_->resizeColumnsToContents();
  grid_->setVisible(!found_.empty());
  btnSaveEmbedded_->setVisible(!found_.empty());
  if (!found_.empty()) grid_->selectRow(0);
  ShowState();
  emit Changed();
}

void EmbeddedPane::ShowState() {
  QString text;
  switch (state_) {
    case State::kSearching:
      text = QStringLiteral("Looking for executables hidden in the file\u2026");
      break;
    case State::kChanged:
      text = QStringLiteral("The file has changed since the run: no hidden executables shown.");
      break;
    case State::kCannotRead:
      text = QStringLiteral("The file can no longer be read: no hidden executables shown.");
      break;
    case State::kDone:
      text = found_.empty() ? QStringLiteral("No hidden executables under the row's keys.")
             : found_.size() == 1
                 ? QStringLiteral("1 hidden executable under the row's keys")
                 : QStringLiteral("%1 hidden executables under the row's keys").arg(found_.size());
      break;
  }
  if (!note_.isEmpty()) text += QStringLiteral(" \u2014 ") + note_;
  lbEmbedded_->setText(text);
  btnSaveEmbedded_->setEnabled(!save_->busy() && grid_->currentRow() >= 0 &&
                               !grid_->selectedItems().isEmpty());
}

void EmbeddedPane::SaveSelected() {
  const int row = grid_->currentRow();
  if (row < 0 || row >= static_cast<int>(found_.size()) || save_->busy()) return;
  const FoundExecutable found = found_[static_cast<size_t>(row)];
  // Beside the input, named as --carve names it but by the input's own name.
  const QString input = QFile::decodeName(result_->search->input.c_str());
  const QString suggested =
      QStringLiteral("%1_%2_%3_%4%5")
          .arg(input, QString::number(found.offset), QString::fromStdString(found.pair.algorithm),
               QString::fromStdString(KeyTextOf(found.pair)),
               QString::fromLatin1(FormatExtension(found.format).data()));
  const QString path = ChooseFileToSave(this, suggested);
  if (path.isEmpty()) return;
  save_->Start(result_->search, CipherOf(found.pair), found.offset, found.offset + found.size, path,
               [this](bool saved, const QString& text) {
                 if (saved) {
                   note_ = text;
                 } else if (!text.isEmpty()) {
                   ShowErrorBox(this, text);
                 }
                 ShowState();
                 emit Changed();
               });
  ShowState();
}

}  // namespace veskor
