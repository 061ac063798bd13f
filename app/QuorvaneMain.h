#pragma once
// The process entry shared by both shells: a shell installs its platform
// (and lays out the device) and then calls this.
int quorvaneMain(int argc, char** argv);
