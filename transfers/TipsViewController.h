#pragma once
// The options screen shown over the transfer tab; its one action closes it.
#include "kit/ViewController.h"

class TipsViewController : public kit::ViewController {
public:
    std::string className() const override { return "TipsViewController"; }
    void loadView() override;
    void dismissAction(void* sender);
};
