// ferrule: registers packs. The program frame comes with the process entry.
int main() { return 0; }
