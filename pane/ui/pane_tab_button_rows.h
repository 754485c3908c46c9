// ButtonRows: the buttons of a tab grouped by what they are for, each with a line saying what it does.
#pragma once

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <vector>

namespace vl::ui {

// The buttons of a tab share one width so they read as a column.
struct ButtonRows {
  QWidget* tab;
  std::vector<QPushButton*> buttons;

  QGridLayout* group(QVBoxLayout* layout, const QString& title) {
    auto* box = new QGroupBox(title, tab);
    box->setAccessibleName(title);
    auto* grid = new QGridLayout(box);
    grid->setColumnStretch(1, 1);
    grid->setHorizontalSpacing(14);
    layout->addWidget(box);
    return grid;
  }
  QPushButton* add(QGridLayout* grid, const QString& text, const QString& explanation) {
    auto* b = new QPushButton(text, grid->parentWidget());
    b->setAccessibleName(text);
    b->setAccessibleDescription(explanation);
    auto* l = new QLabel(explanation, grid->parentWidget());
    l->setAccessibleName(explanation);
    l->setWordWrap(true);
    l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    l->setBuddy(b);
    const int row = grid->rowCount();
    grid->addWidget(b, row, 0, Qt::AlignLeft | Qt::AlignTop);
    grid->addWidget(l, row, 1);
    buttons.push_back(b);
    return b;
  }
  void evenWidths() {
    int w = 0;
    for (QPushButton* b : buttons) w = std::max(w, b->sizeHint().width());
    for (QPushButton* b : buttons) b->setMinimumWidth(w);
  }
};

}  // namespace vl::ui
