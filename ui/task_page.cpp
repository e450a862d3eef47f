// The Tasks page: the grid's drawing, editors and tooltips, its selection and sorting, and the
// task buttons.
#include "ui/task_page.h"

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSvgRenderer>
#include <QTableView>
#include <QToolTip>
#include <algorithm>
#include <array>
#include <cmath>

#include "ui/error_box.h"
#include "ui/look.h"
#include "ui/qt_text.h"
#include "ui/task_table_model.h"

// The pictures live in the library's resources; naming the initializer keeps them linked in.
static void InitGridResources() { Q_INIT_RESOURCE(icons); }

namespace veskor {
namespace {

constexpr int kTextMargin = 3;
constexpr int kRowHeight = 18;
constexpr int kColumnWidths[kTaskColumnCount] = {20, 20, 90, 90, 41, 80, 62, 20};

// The page's design size; the grid and the buttons keep their distances to the anchored edges.
constexpr QSize kDesignSize(kPageWidth, kPageHeight);
constexpr QRect kGridRect(8, 8, 427, 214);
constexpr QRect kAnalyzeRect(281, 229, 75, 25);
constexpr QRect kResetRect(361, 229, 75, 25);
constexpr QRect kAddTaskRect(8, 229, 75, 25);
constexpr QRect kDelTaskRect(88, 229, 75, 25);

bool IsPictureColumn(int column) { return column == NxImageColumn || column == NxGotoColumn; }
bool HasTextTooltip(int column) { return ColumnKind(column) == CellKind::kText; }

QRect TextRect(const QRect& cell) { return cell.adjusted(kTextMargin, 0, -kTextMargin, 0); }

QRect Centred(const QRect& cell, QSize size) {
  QRect target(QPoint(0, 0), size);
  target.moveCenter(cell.center());
  return target;
}

QPixmap RenderGridImage(int value, qreal ratio) {
  InitGridResources();
  QSvgRenderer renderer(QStringLiteral(":/icons/grid%1.svg").arg(value));
  const int side = static_cast<int>(std::lround(kGridImageSize * ratio));
  QPixmap pixmap(side, side);
  pixmap.fill(Qt::transparent);
  if (renderer.isValid()) {
    QPainter painter(&pixmap);
    renderer.render(&painter);
  }
  pixmap.setDevicePixelRatio(ratio);
  return pixmap;
}

// The task grid: a click beside the rows, or a Ctrl+click on the selected one, leaves the
// selection as it is. The table always has a selected row while it has rows, and "Delete task"
// removes that row, so the grid must never show none.
class TaskGridView : public QTableView {
 public:
  using QTableView::QTableView;

 protected:
  QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                       const QEvent* event) const override {
    if (!index.isValid()) return QItemSelectionModel::NoUpdate;
    const QItemSelectionModel::SelectionFlags command = QTableView::selectionCommand(index, event);
    if (command & QItemSelectionModel::Deselect) {
      return QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows;
    }
    return command;
  }
};

}  // namespace

QPixmap GridImage(int value, qreal device_pixel_ratio) {
  if (value < 0 || value >= kGridImageCount) return QPixmap();
  if (device_pixel_ratio != 1.0) return RenderGridImage(value, device_pixel_ratio);
  static std::array<QPixmap, kGridImageCount> cache;
  if (cache[value].isNull()) cache[value] = RenderGridImage(value, 1.0);
  return cache[value];
}

QColor SelectedCellColor(const QColor& highlight, const QColor& cell) {
  auto blend = [](int h, int c) { return static_cast<int>(std::lround((h + 3.0 * c) / 4.0)); };
  return QColor(blend(highlight.red(), cell.red()), blend(highlight.green(), cell.green()),
                blend(highlight.blue(), cell.blue()));
}

// --- TaskGridDelegate ----------------------------------------------------------------------

TaskGridDelegate::TaskGridDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

QString TaskGridDelegate::ToolTip(const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
  const int column = index.column();
  if (column == NxGotoColumn) {
    return index.data(TaskTableModel::kLogPathRole).toString();
  }
  if (column == NxImageColumn) return index.data(Qt::ToolTipRole).toString();
  if (column == NxResultColumn) {
    const QString count = index.data(TaskTableModel::kCountRole).toString();
    if (!count.isEmpty()) return count;
  }
  if (!HasTextTooltip(column)) return QString();
  const QString text = index.data(Qt::DisplayRole).toString();
  if (option.fontMetrics.horizontalAdvance(text) <= TextRect(option.rect).width()) {
    return QString();
  }
  return text;
}

void TaskGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
  QStyleOptionViewItem opt = option;
  initStyleOption(&opt, index);
  const QPalette& palette = opt.palette;
  const QColor cell = palette.color(QPalette::Active, QPalette::Base);
  const QColor highlight = palette.color(QPalette::Active, QPalette::Highlight);
  const bool selected = opt.state & QStyle::State_Selected;
  const QPalette::ColorGroup group =
      (opt.state & QStyle::State_Enabled) ? QPalette::Active : QPalette::Disabled;

  painter->save();
  painter->fillRect(opt.rect, selected ? SelectedCellColor(highlight, cell) : cell);
  const int column = index.column();
  if (column == NxUseColumn) {
    const QStyle* style = opt.widget ? opt.widget->style() : QApplication::style();
    const QSize box(style->pixelMetric(QStyle::PM_IndicatorWidth, &opt, opt.widget),
                    style->pixelMetric(QStyle::PM_IndicatorHeight, &opt, opt.widget));
    QStyleOptionViewItem check = opt;
    check.rect = Centred(opt.rect, box);
    check.state &= ~(QStyle::State_On | QStyle::State_Off | QStyle::State_NoChange |
                     QStyle::State_Selected | QStyle::State_HasFocus);
    check.state |= opt.checkState == Qt::Checked ? QStyle::State_On : QStyle::State_Off;
    style->drawPrimitive(QStyle::PE_IndicatorItemViewItemCheck, &check, painter, opt.widget);
  } else if (IsPictureColumn(column)) {
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    const QPixmap picture = GridImage(index.data(TaskTableModel::kPictureRole).toInt(), ratio);
    if (!picture.isNull()) {
      painter->drawPixmap(Centred(opt.rect, QSize(kGridImageSize, kGridImageSize)), picture);
    }
  } else if (column == NxProgressColumn) {
    const double percent =
        std::clamp(index.data(TaskTableModel::kProgressRole).toDouble(), 0.0, 100.0);
    const QRect track = opt.rect.adjusted(2, 3, -2, -3);
    painter->setPen(palette.color(group, QPalette::Mid));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(track.adjusted(0, 0, -1, -1));
    const QRect inside = track.adjusted(1, 1, -1, -1);
    const int filled = static_cast<int>(std::lround(inside.width() * percent / 100.0));
    if (filled > 0) {
      painter->fillRect(QRect(inside.left(), inside.top(), filled, inside.height()),
                        palette.color(group, QPalette::Highlight));
    }
  } else {
    const QRect text_rect = TextRect(opt.rect);
    const QString text =
        opt.fontMetrics.elidedText(opt.text, Qt::ElideRight, text_rect.width(), Qt::TextSingleLine);
    painter->setFont(opt.font);
    painter->setPen(palette.color(group, QPalette::Text));
    painter->drawText(text_rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
  }
  painter->restore();
}

QWidget* TaskGridDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                        const QModelIndex& index) const {
  const int column = index.column();
  if (column == NxAlgoColumn || column == NxPresetColumn) {
    auto* combo = new QComboBox(parent);
    combo->setEditable(false);
    if (column == NxAlgoColumn) {
      for (const char* name : kAlgorithmChoices) combo->addItem(QString::fromLatin1(name));
    } else {
      combo->addItems(preset_choices_);
    }
    // Picking an entry is the end of the edit.
    auto* self = const_cast<TaskGridDelegate*>(this);
    connect(combo, &QComboBox::activated, self, [self, combo] {
      emit self->commitData(combo);
      emit self->closeEditor(combo);
    });
    return combo;
  }
  if (column == NxKeyColumn) {
    auto* edit = new QLineEdit(parent);
    edit->setFrame(false);
    return edit;
  }
  return nullptr;
}

void TaskGridDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
  const QString text = index.data(Qt::EditRole).toString();
  if (auto* combo = qobject_cast<QComboBox*>(editor)) {
    combo->setCurrentIndex(combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive));
  } else if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
    edit->setText(text);
  }
}

void TaskGridDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                    const QModelIndex& index) const {
  if (auto* combo = qobject_cast<QComboBox*>(editor)) {
    if (combo->currentIndex() >= 0) model->setData(index, combo->currentText(), Qt::EditRole);
  } else if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
    model->setData(index, edit->text(), Qt::EditRole);
  }
}

void TaskGridDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                            const QModelIndex& index) const {
  editor->setGeometry(option.rect);
}

bool TaskGridDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                   const QStyleOptionViewItem& option, const QModelIndex& index) {
  if (index.column() != NxUseColumn || !(index.flags() & Qt::ItemIsUserCheckable) ||
      !(index.flags() & Qt::ItemIsEnabled)) {
    return QStyledItemDelegate::editorEvent(event, model, option, index);
  }
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
      // Taken so that a double click neither toggles twice nor opens an editor.
      const auto* mouse = static_cast<QMouseEvent*>(event);
      return event->type() == QEvent::MouseButtonDblClick &&
             option.rect.contains(mouse->position().toPoint());
    }
    case QEvent::MouseButtonRelease: {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() != Qt::LeftButton || !option.rect.contains(mouse->position().toPoint())) {
        return false;
      }
      break;
    }
    case QEvent::KeyPress: {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key != Qt::Key_Space && key != Qt::Key_Select) return false;
      break;
    }
    default:
      return false;
  }
  const bool checked = index.data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked;
  return model->setData(index, checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
}

bool TaskGridDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                 const QStyleOptionViewItem& option, const QModelIndex& index) {
  if (event->type() != QEvent::ToolTip) {
    return QStyledItemDelegate::helpEvent(event, view, option, index);
  }
  const QString tip = index.isValid() ? ToolTip(option, index) : QString();
  if (tip.isEmpty()) {
    QToolTip::hideText();
    event->ignore();
  } else {
    QToolTip::showText(event->globalPos(), tip, view, view->visualRect(index));
  }
  return true;
}

// --- TaskPage ------------------------------------------------------------------------------

TaskPage::TaskPage(TaskTable& table, QWidget* parent)
    : QWidget(parent),
      table_(table),
      model_(new TaskTableModel(table, this)),
      delegate_(new TaskGridDelegate(this)),
      grid_(new TaskGridView(this)),
      btn_analyze_(new QPushButton(QStringLiteral("Analyze"), this)),
      btn_reset_(new QPushButton(QStringLiteral("Reset"), this)),
      btn_add_task_(new QPushButton(QStringLiteral("Add task"), this)),
      btn_del_task_(new QPushButton(QStringLiteral("Delete task"), this)),
      row_menu_(new QMenu(this)),
      act_show_results_(row_menu_->addAction(QStringLiteral("Show results"))),
      first_preset_name_([] { return std::string(); }) {
  setObjectName(QStringLiteral("TaskSheet"));
  grid_->setObjectName(QStringLiteral("TaskGrid"));
  btn_analyze_->setObjectName(QStringLiteral("btnAnalyze"));
  btn_reset_->setObjectName(QStringLiteral("btnReset"));
  btn_add_task_->setObjectName(QStringLiteral("btnAddTask"));
  btn_del_task_->setObjectName(QStringLiteral("btnDelTask"));
  btn_analyze_->setEnabled(false);
  row_menu_->setObjectName(QStringLiteral("TaskMenu"));
  act_show_results_->setObjectName(QStringLiteral("actShowResults"));
  connect(act_show_results_, &QAction::triggered, this,
          [this] { emit ResultsRequested(act_show_results_->data().toInt()); });

  SetUpGrid();
  resize(kDesignSize);
  PlaceChildren();

  setTabOrder(grid_, btn_analyze_);
  setTabOrder(btn_analyze_, btn_reset_);
  setTabOrder(btn_reset_, btn_add_task_);
  setTabOrder(btn_add_task_, btn_del_task_);

  connect(btn_add_task_, &QPushButton::clicked, this, &TaskPage::btnAddTaskClick);
  connect(btn_del_task_, &QPushButton::clicked, this, &TaskPage::btnDelTaskClick);
  connect(btn_reset_, &QPushButton::clicked, this, &TaskPage::btnResetClick);
}

void TaskPage::SetUpGrid() {
  // Connected before the grid's own selection model, so that the grid's moves of its current
  // row during a change of rows are seen as such.
  auto quiet = [this] { ++quiet_selection_; };
  auto loud = [this] {
    --quiet_selection_;
    ShowSelection();
  };
  connect(model_, &QAbstractItemModel::modelAboutToBeReset, this, quiet);
  connect(model_, &QAbstractItemModel::modelReset, this, loud);
  connect(model_, &QAbstractItemModel::rowsAboutToBeInserted, this, quiet);
  connect(model_, &QAbstractItemModel::rowsInserted, this, loud);
  connect(model_, &QAbstractItemModel::rowsAboutToBeRemoved, this, quiet);
  connect(model_, &QAbstractItemModel::rowsRemoved, this, loud);
  connect(model_, &TaskTableModel::SelectedRowChanged, this, [this] { ShowSelection(); });

  grid_->setModel(model_);
  grid_->setItemDelegate(delegate_);
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid_->setSelectionMode(QAbstractItemView::SingleSelection);
  grid_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                         QAbstractItemView::EditKeyPressed);
  grid_->setShowGrid(false);
  grid_->setSortingEnabled(false);
  grid_->setWordWrap(false);
  grid_->setTextElideMode(Qt::ElideRight);
  grid_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  grid_->setAutoScroll(false);

  QHeaderView* vertical = grid_->verticalHeader();
  vertical->hide();
  vertical->setMinimumSectionSize(kRowHeight);
  vertical->setSectionResizeMode(QHeaderView::Fixed);
  vertical->setDefaultSectionSize(kRowHeight);

  QHeaderView* header = grid_->horizontalHeader();
  header->setSectionsMovable(false);
  header->setSectionsClickable(true);
  header->setHighlightSections(false);
  header->setStretchLastSection(false);
  header->setMinimumSectionSize(kColumnWidths[NxUseColumn]);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  for (int column = 0; column < kTaskColumnCount; ++column) {
    const bool fixed = column == NxUseColumn || column == NxImageColumn || column == NxGotoColumn;
    header->setSectionResizeMode(column, fixed ? QHeaderView::Fixed : QHeaderView::Interactive);
    header->resizeSection(column, kColumnWidths[column]);
  }
  header->setSortIndicatorShown(true);
  ShowSortIndicator();
  connect(header, &QHeaderView::sectionClicked, this, &TaskPage::SortBy);

  connect(grid_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { TakeSelection(current.row()); });
  connect(grid_, &QTableView::clicked, this,
          [this](const QModelIndex& index) { emit CellClicked(index.column(), index.row()); });
  connect(grid_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
    if (index.column() == NxResultColumn && HasResults(index.row())) {
      emit ResultsRequested(index.row());
    }
  });
  grid_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(grid_, &QWidget::customContextMenuRequested, this, &TaskPage::ShowRowMenu);
  ShowSelection();
}

void TaskPage::PlaceChildren() {
  const int dx = width() - kDesignSize.width();
  const int dy = height() - kDesignSize.height();
  grid_->setGeometry(kGridRect.adjusted(0, 0, dx, dy));
  btn_analyze_->setGeometry(kAnalyzeRect.translated(dx, dy));
  btn_reset_->setGeometry(kResetRect.translated(dx, dy));
  btn_add_task_->setGeometry(kAddTaskRect.translated(0, dy));
  btn_del_task_->setGeometry(kDelTaskRect.translated(0, dy));
}

void TaskPage::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  PlaceChildren();
}

void TaskPage::SetPresetChoices(const std::vector<std::string>& names_8bit) {
  QStringList choices;
  choices.reserve(static_cast<qsizetype>(names_8bit.size()));
  for (const std::string& name : names_8bit) choices << From1251(name);
  delegate_->SetPresetChoices(std::move(choices));
}

void TaskPage::SetFirstPresetName(std::function<std::string()> first) {
  first_preset_name_ = std::move(first);
}

void TaskPage::SetRunControls(bool enabled) {
  btn_add_task_->setEnabled(enabled);
  btn_del_task_->setEnabled(enabled);
  btn_reset_->setEnabled(enabled);
}

void TaskPage::btnAddTaskClick() {
  Guarded(this, [this] { table_.AddTask(first_preset_name_()); });
}

void TaskPage::btnDelTaskClick() {
  Guarded(this, [this] { table_.DeleteTask(); });
}

void TaskPage::btnResetClick() {
  Guarded(this, [this] { table_.Reset(first_preset_name_()); });
}

void TaskPage::ShowSelection() {
  if (quiet_selection_ > 0) return;
  QItemSelectionModel* selection = grid_->selectionModel();
  const int row = table_.SelectedRow();
  ++quiet_selection_;
  if (row >= 0 && row < table_.RowCount()) {
    const QModelIndex current = selection->currentIndex();
    if (current.row() != row || !selection->isRowSelected(row)) {
      const int column = current.isValid() ? current.column() : 0;
      selection->setCurrentIndex(model_->index(row, column),
                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
  } else if (selection->hasSelection() || selection->currentIndex().isValid()) {
    selection->clear();
  }
  --quiet_selection_;
}

void TaskPage::TakeSelection(int row) {
  if (quiet_selection_ > 0) return;
  table_.SelectTask(row);
}

bool TaskPage::HasResults(int row) const {
  return model_->index(row, NxResultColumn).data(TaskTableModel::kHasResultsRole).toBool();
}

void TaskPage::ShowRowMenu(const QPoint& pos) {
  const QModelIndex index = grid_->indexAt(pos);
  if (!index.isValid()) return;
  // The menu is about the row under the pointer, which becomes the selected one.
  table_.SelectTask(index.row());
  act_show_results_->setData(index.row());
  act_show_results_->setEnabled(HasResults(index.row()));
  row_menu_->popup(grid_->viewport()->mapToGlobal(pos));
}

void TaskPage::SortBy(int column) {
  Guarded(this, [&] { table_.SortByColumn(column); });
  ShowSortIndicator();
}

void TaskPage::ShowSortIndicator() {
  const int column = table_.SortColumn();
  grid_->horizontalHeader()->setSortIndicator(column, column >= 0 && !table_.SortAscending(column)
                                                          ? Qt::DescendingOrder
                                                          : Qt::AscendingOrder);
}

}  // namespace veskor
