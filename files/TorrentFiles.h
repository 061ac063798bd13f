#pragma once
// The downloads folder tab.
#include "kit/ViewController.h"

class TorrentFiles : public kit::ViewController {
public:
    std::string className() const override { return "TorrentFiles"; }
};
