// Entry point of the Updater command-line tool.
int main() { return 1; }
