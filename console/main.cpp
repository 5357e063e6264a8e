// The `kiv` program: hands the process over to the runtime's start-up.
int main(int, char**) { return 0; }
