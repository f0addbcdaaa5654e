#pragma once
// The record of an open FILE device (private to the link).
struct CamFileDevice {
    int fd;
};
