// Placeholder until the settings store lands.
namespace parcelix {}
