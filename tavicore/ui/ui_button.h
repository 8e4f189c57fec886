#pragma once
// A plain push button of the engine (CMxNfsBtn); no behaviour of its own.

#include "tavicore/ui/tavicore_ui_api.h"

#include <QPushButton>

class TAVICORE_UI_API CMxNfsBtn : public QPushButton {
public:
    explicit CMxNfsBtn(QWidget* parent = nullptr) : QPushButton(parent) {}
    ~CMxNfsBtn() override = default;
};
