// qmdown: the windowless downloader.
int main() { return 0; }
