// velmora-inputd: placeholder entry point, replaced below.
int main() { return 0; }
