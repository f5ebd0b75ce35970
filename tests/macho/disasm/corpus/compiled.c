/* A compiled corpus for the disassemblers: loops, 64-bit arithmetic, a
   switch, structure walks, floating point. */
struct node {
    struct node* next;
    int key;
    short weight;
    char tag;
};

static int table[64];

int sum_scaled(const int* a, int n)
{
    int s = 0;
    for (int i = 0; i < n; i++)
        s += a[i] * 3 + (a[i] >> 2);
    return s;
}

long long mix(long long a, long long b, unsigned c)
{
    return (a * b) / (c | 1) + (a % 7) - (b << (c & 15));
}

int find(struct node* n, int key)
{
    while (n != 0) {
        if (n->key == key)
            return n->weight + n->tag;
        n = n->next;
    }
    return -1;
}

void fill(int seed)
{
    for (unsigned i = 0; i < sizeof table / sizeof table[0]; i++) {
        seed = seed * 1103515245 + 12345;
        table[i] = (seed >> 16) & 0x7fff;
    }
}

int classify(int x)
{
    switch (x) {
    case 0: return 10;
    case 1: return 22;
    case 2: return 35;
    case 3: return 47;
    case 5: return 51;
    case 8: return 68;
    default: return x > 100 ? 1 : -1;
    }
}

unsigned short swap16(unsigned short v)
{
    return (unsigned short)((v << 8) | (v >> 8));
}

int divide(int a, int b, int* rem)
{
    *rem = a % b;
    return a / b;
}

double poly(const double* c, int n, double x)
{
    double r = 0;
    for (int i = n - 1; i >= 0; i--)
        r = r * x + c[i];
    return r;
}

float mean(const float* v, int n)
{
    float s = 0;
    for (int i = 0; i < n; i++)
        s += v[i];
    return n ? s / (float)n : 0.0f;
}
