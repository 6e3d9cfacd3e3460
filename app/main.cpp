// Entry point placeholder until the application spine lands.
int main() { return 0; }
