#pragma once
// The torrent-site browser tab.
#include "kit/ViewController.h"

class DownloadViewController : public kit::ViewController {
public:
    std::string className() const override { return "DownloadViewController"; }
};
