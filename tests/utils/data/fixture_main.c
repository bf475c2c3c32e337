/* The code of the fixture modules: they exist for their resources. */
int main(void) { return 0; }
