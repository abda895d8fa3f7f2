// "imports" prints each P/Invoke declaration of Tavsn.cs:
//   class method dll entry-point convention exact-spelling return (parameters)
// Otherwise each argument, "Helper:result", sets the stand-in library's next
// result and prints what the helper gave back or threw.
using System;
using System.Linq;
using System.Reflection;
using System.Runtime.InteropServices;

static class CheckBindings
{
    [DllImport("tavsn.dll")]
    static extern void fake_set_result(int result);

    static void Main(string[] args)
    {
        Type helpers = typeof(Tavsn.TavsnIdentifiers);
        if (args[0] == "imports")
            foreach (Type type in helpers.Assembly.GetTypes())
                foreach (MethodInfo m in type.GetMethods(BindingFlags.NonPublic | BindingFlags.Static))
                    foreach (DllImportAttribute i in m.GetCustomAttributes(typeof(DllImportAttribute), false))
                        Console.WriteLine("{0} {1} {2} {3} {4} {5} {6} ({7})", type.Name, m.Name, i.Value, i.EntryPoint,
                                          i.CallingConvention, i.ExactSpelling, m.ReturnType.Name,
                                          string.Join(",", m.GetParameters().Select(p => p.ParameterType.Name).ToArray()));
        foreach (string call in args.Where(a => a != "imports"))
        {
            string[] parts = call.Split(':');
            fake_set_result(int.Parse(parts[1]));
            // The overload with the out parameter, where there is one.
            MethodInfo helper = helpers.GetMethods().Where(m => m.Name == parts[0]).OrderBy(m => m.GetParameters().Length).Last();
            object[] source = new object[helper.GetParameters().Length];
            try
            {
                Console.WriteLine("{0} {1} {2}", call, helper.Invoke(null, source), source.FirstOrDefault());
            }
            catch (TargetInvocationException e)
            {
                Tavsn.TavsnException t = (Tavsn.TavsnException)e.InnerException;
                Console.WriteLine("{0} {1}.{2} {3} {4}", call, t.Result.GetType().Name, t.Result, t.Code, t.Message);
            }
        }
    }
}
