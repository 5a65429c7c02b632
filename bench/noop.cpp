// A static program that does nothing: the yardstick of process start-up in
// throughput.sh.
int main() {
  return 0;
}
